#include "texteffects/EffectSettings.h"

namespace {

// Stores value in field and reports whether it changed.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

// ---- TAssignable ----

void TAssignable::Assign(const TAssignable& source) { source.AssignTo(*this); }

void TAssignable::AssignTo(TAssignable& dest) const { dest.AssignError(*this); }

void TAssignable::AssignError(const TAssignable& source) const {
  throw EAssignError(
      QStringLiteral("Cannot assign a %1 to a %2")
          .arg(QString::fromLatin1(source.ClassName()), QString::fromLatin1(ClassName())));
}

// ---- TNotifyClass ----

void TNotifyClass::Assign(const TAssignable& source) {
  if (dynamic_cast<const TNotifyClass*>(&source) == nullptr) TAssignable::Assign(source);
}

void TNotifyClass::Changed() {
  if (OnChange) OnChange(this);
}

void TNotifyClass::DoChange(TNotifyClass* /*sender*/) { Changed(); }

// ---- TEnabledClass ----

void TEnabledClass::Assign(const TAssignable& source) {
  TNotifyClass::Assign(source);
  if (const auto* other = dynamic_cast<const TEnabledClass*>(&source)) FEnabled = other->FEnabled;
}

void TEnabledClass::Changed() {
  if (FEnabled) TNotifyClass::Changed();
}

void TEnabledClass::SetEnabled(bool value) {
  if (FEnabled == value) return;
  FEnabled = value;
  // Directly, not through Changed: switching the group off must be heard too.
  if (OnChange) OnChange(this);
}

// ---- TIAShadow ----

void TIAShadow::Assign(const TAssignable& source) {
  TEnabledClass::Assign(source);
  if (const auto* other = dynamic_cast<const TIAShadow*>(&source)) {
    FBlur = other->FBlur;
    FAlpha = other->FAlpha;
    FColor = other->FColor;
    FOffsetX = other->FOffsetX;
    FOffsetY = other->FOffsetY;
  }
}

void TIAShadow::SetBlur(TBlurStrength value) {
  if (Store(FBlur, value)) Changed();
}
void TIAShadow::SetAlpha(TAlpha value) {
  if (Store(FAlpha, value)) Changed();
}
void TIAShadow::SetColor(TColor value) {
  if (Store(FColor, value)) Changed();
}
void TIAShadow::SetOffsetX(TOffset value) {
  if (Store(FOffsetX, value)) Changed();
}
void TIAShadow::SetOffsetY(TOffset value) {
  if (Store(FOffsetY, value)) Changed();
}

// ---- TIAGradual ----

void TIAGradual::Assign(const TAssignable& source) {
  TEnabledClass::Assign(source);
  if (const auto* other = dynamic_cast<const TIAGradual*>(&source)) {
    FStyle = other->FStyle;
    FStartColor = other->FStartColor;
    FEndColor = other->FEndColor;
  }
}

void TIAGradual::SetStyle(TGradualStyle value) {
  if (Store(FStyle, value)) Changed();
}
void TIAGradual::SetStartColor(TColor value) {
  if (Store(FStartColor, value)) Changed();
}
void TIAGradual::SetEndColor(TColor value) {
  if (Store(FEndColor, value)) Changed();
}

// ---- TIAPicture ----

void TIAPicture::Assign(const TAssignable& source) {
  if (const auto* other = dynamic_cast<const TIAPicture*>(&source)) {
    SetGraphic(other->FGraphic, other->FKind);
    return;
  }
  TAssignable::Assign(source);
}

void TIAPicture::SetGraphic(const QImage& graphic, GraphicKind kind) {
  FGraphic = graphic;
  FKind = kind;
  if (OnChange) OnChange();
}

void TIAPicture::Clear() { SetGraphic(QImage(), Bitmap); }

// ---- TIATexture ----

TIATexture::TIATexture(TNotifyEvent onChange)
    : TEnabledClass(std::move(onChange)), FPicture(std::make_unique<TIAPicture>()) {
  FPicture->OnChange = [this] { Changed(); };
}

void TIATexture::Assign(const TAssignable& source) {
  TEnabledClass::Assign(source);
  if (const auto* other = dynamic_cast<const TIATexture*>(&source)) {
    FMode = other->FMode;
    // The holder reports the new picture itself, as any change of the picture does.
    FPicture->Assign(*other->FPicture);
  }
}

void TIATexture::SetMode(TTextureMode value) {
  if (Store(FMode, value)) Changed();
}

void TIATexture::SetPicture(const TIAPicture& value) { FPicture->Assign(value); }

// ---- TIAEffect ----

TIAEffect::TIAEffect(TNotifyEvent onChange) : TNotifyClass(std::move(onChange)) {
  const TNotifyEvent forward = [this](TNotifyClass* sender) { DoChange(sender); };
  FShadow = std::make_unique<TIAShadow>(forward);
  FGradual = std::make_unique<TIAGradual>(forward);
  FTexture = std::make_unique<TIATexture>(forward);
}

TIAEffect::~TIAEffect() = default;

void TIAEffect::Assign(const TAssignable& source) {
  TNotifyClass::Assign(source);
  if (const auto* other = dynamic_cast<const TIAEffect*>(&source)) {
    FAlpha = other->FAlpha;
    FBlur = other->FBlur;
    FNoise = other->FNoise;
    FOutline = other->FOutline;
    FHorzMirror = other->FHorzMirror;
    FVertMirror = other->FVertMirror;
    FSpray = other->FSpray;
    FAngle = other->FAngle;
    FShadow->Assign(*other->FShadow);
    FGradual->Assign(*other->FGradual);
    FTexture->Assign(*other->FTexture);
  }
}

void TIAEffect::SetShadow(const TIAShadow& value) {
  FShadow->Assign(value);
  Changed();
}
void TIAEffect::SetGradual(const TIAGradual& value) {
  FGradual->Assign(value);
  Changed();
}
void TIAEffect::SetTexture(const TIATexture& value) {
  FTexture->Assign(value);
  Changed();
}

void TIAEffect::SetAlpha(TAlpha value) {
  if (Store(FAlpha, value)) Changed();
}
void TIAEffect::SetBlur(TBlurStrength value) {
  if (Store(FBlur, value)) Changed();
}
void TIAEffect::SetAngle(TAngle value) {
  if (Store(FAngle, value)) Changed();
}
void TIAEffect::SetNoise(std::uint8_t value) {
  if (Store(FNoise, value)) Changed();
}
void TIAEffect::SetSpray(TSprayRange value) {
  if (Store(FSpray, value)) Changed();
}
void TIAEffect::SetOutline(bool value) {
  if (Store(FOutline, value)) Changed();
}
void TIAEffect::SetHorzMirror(bool value) {
  if (Store(FHorzMirror, value)) Changed();
}
void TIAEffect::SetVertMirror(bool value) {
  if (Store(FVertMirror, value)) Changed();
}
