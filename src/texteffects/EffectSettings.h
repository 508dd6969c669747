#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>

#include "texteffects/TextCanvas.h"
#include "util/Errors.h"

// The settings of the text-effects engine: which effects are on and with which strengths.
// One TIAEffect owns a TIAShadow, a TIAGradual and a TIATexture. The objects hold values and
// pass change notifications upward; they compute nothing.
//
// The ranges of the value types are a contract, not a check: no setter clamps or rejects a
// value, and the renderer's arithmetic is only defined inside them.

using TAlpha = std::uint8_t;         // opacity, 0..100 percent
using TBlurStrength = std::uint8_t;  // blur strength, 0..100 percent
using TOffset = std::int8_t;         // shadow offset, -20..20 pixels
using TSprayRange = std::uint8_t;    // scatter distance, 0..100 pixels
using TAngle = std::int16_t;         // rotation, -360..360 degrees counter-clockwise

enum TGradualStyle : std::uint8_t {
  gsLeftToRight,
  gsRightToLeft,
  gsTopToBottom,
  gsBottomToTop,
  gsCenterToLR,
  gsCenterToTB
};

enum TTextureMode : std::uint8_t { tmTiled, tmStretched, tmCenter, tmNormal };

// Raised when an object is assigned from a source it cannot take its settings from.
// Message: "Cannot assign a <source class> to a <target class>".
class EAssignError : public QuillomarError {
 public:
  using QuillomarError::QuillomarError;
};

// Base of every object that can take its settings from another one. Assign asks the source to
// assign itself (AssignTo); when neither side knows the other, EAssignError is raised.
class TAssignable {
 public:
  virtual ~TAssignable() = default;
  TAssignable() = default;
  TAssignable(const TAssignable&) = delete;
  TAssignable& operator=(const TAssignable&) = delete;

  // The class name used in the assignment error.
  virtual const char* ClassName() const { return "TPersistent"; }

  // Copies the settings of source into this object. Throws EAssignError for a source of a
  // kind this object does not know.
  virtual void Assign(const TAssignable& source);

 protected:
  // Copies this object's settings into dest. The default knows no target: EAssignError.
  virtual void AssignTo(TAssignable& dest) const;
  // Raises EAssignError for assigning source to this object.
  [[noreturn]] void AssignError(const TAssignable& source) const;
};

class TNotifyClass;

// A change callback: receives the object that changed.
using TNotifyEvent = std::function<void(TNotifyClass* sender)>;

// An object that tells its owner about changes through OnChange.
class TNotifyClass : public TAssignable {
 public:
  explicit TNotifyClass(TNotifyEvent onChange = {}) : OnChange(std::move(onChange)) {}

  const char* ClassName() const override { return "TNotifyClass"; }

  // Non-TNotifyClass sources raise EAssignError; subclasses copy their fields after this.
  void Assign(const TAssignable& source) override;

  // Calls OnChange, if set, with this object as sender.
  virtual void Changed();
  // A change callback that calls Changed: an owner hands it to the objects it owns.
  virtual void DoChange(TNotifyClass* sender);

  // Called when a setting changes; may be empty.
  TNotifyEvent OnChange;
};

// A group of settings that can be switched on and off; while it is off, changes of its
// settings are not passed on. Switching it on or off always is.
class TEnabledClass : public TNotifyClass {
 public:
  using TNotifyClass::TNotifyClass;

  const char* ClassName() const override { return "TEnabledClass"; }
  void Assign(const TAssignable& source) override;
  void Changed() override;

  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool value);

 protected:
  bool FEnabled = false;
};

// A drop shadow behind the text.
class TIAShadow : public TEnabledClass {
 public:
  explicit TIAShadow(TNotifyEvent onChange = {}) : TEnabledClass(std::move(onChange)) {}

  const char* ClassName() const override { return "TIAShadow"; }
  void Assign(const TAssignable& source) override;

  TBlurStrength Blur() const { return FBlur; }
  TAlpha Alpha() const { return FAlpha; }
  TColor Color() const { return FColor; }
  TOffset OffsetX() const { return FOffsetX; }
  TOffset OffsetY() const { return FOffsetY; }
  void SetBlur(TBlurStrength value);
  void SetAlpha(TAlpha value);
  void SetColor(TColor value);
  void SetOffsetX(TOffset value);
  void SetOffsetY(TOffset value);

 private:
  TBlurStrength FBlur = 80;
  TAlpha FAlpha = 70;
  TColor FColor = 4473924;  // red, green and blue 68: dark grey
  TOffset FOffsetX = 2;
  TOffset FOffsetY = 2;
};

// A colour gradient as the text's fill.
class TIAGradual : public TEnabledClass {
 public:
  explicit TIAGradual(TNotifyEvent onChange = {}) : TEnabledClass(std::move(onChange)) {}

  const char* ClassName() const override { return "TIAGradual"; }
  void Assign(const TAssignable& source) override;

  TGradualStyle Style() const { return FStyle; }
  TColor StartColor() const { return FStartColor; }
  TColor EndColor() const { return FEndColor; }
  void SetStyle(TGradualStyle value);
  void SetStartColor(TColor value);
  void SetEndColor(TColor value);

 private:
  TGradualStyle FStyle = gsLeftToRight;
  TColor FStartColor = 16777215;  // white
  TColor FEndColor = 0;           // black
};

// A picture holder: any graphic as a QImage (a bitmap, or an icon, which is stretched
// differently). Every change of the graphic calls OnChange.
class TIAPicture : public TAssignable {
 public:
  enum GraphicKind { Bitmap, Icon };

  const char* ClassName() const override { return "TPicture"; }
  void Assign(const TAssignable& source) override;

  // The graphic, null when the holder is empty.
  const QImage& Graphic() const { return FGraphic; }
  GraphicKind Kind() const { return FKind; }
  bool IsEmpty() const {
    return FGraphic.isNull() || FGraphic.width() == 0 || FGraphic.height() == 0;
  }

  // Holds a copy of the graphic (an implicitly shared QImage) and notifies.
  void SetGraphic(const QImage& graphic, GraphicKind kind = Bitmap);
  // Empties the holder and notifies.
  void Clear();

  std::function<void()> OnChange;

 private:
  QImage FGraphic;
  GraphicKind FKind = Bitmap;
};

// A picture as the text's fill.
class TIATexture : public TEnabledClass {
 public:
  explicit TIATexture(TNotifyEvent onChange = {});

  const char* ClassName() const override { return "TIATexture"; }
  void Assign(const TAssignable& source) override;

  TTextureMode Mode() const { return FMode; }
  void SetMode(TTextureMode value);

  // The owned holder; its changes call Changed.
  TIAPicture& Picture() { return *FPicture; }
  const TIAPicture& Picture() const { return *FPicture; }
  // Copies the given picture into the owned holder (which then notifies).
  void SetPicture(const TIAPicture& value);

 private:
  TTextureMode FMode = tmTiled;
  std::unique_ptr<TIAPicture> FPicture;
};

// The whole effect set of a renderer.
class TIAEffect : public TNotifyClass {
 public:
  explicit TIAEffect(TNotifyEvent onChange = {});
  ~TIAEffect() override;

  const char* ClassName() const override { return "TIAEffect"; }
  void Assign(const TAssignable& source) override;

  // The owned groups. Their changes reach this object's Changed.
  TIAShadow& Shadow() { return *FShadow; }
  const TIAShadow& Shadow() const { return *FShadow; }
  TIAGradual& Gradual() { return *FGradual; }
  const TIAGradual& Gradual() const { return *FGradual; }
  TIATexture& Texture() { return *FTexture; }
  const TIATexture& Texture() const { return *FTexture; }
  // Copy the given group's settings into the owned one (Assign), then notify.
  void SetShadow(const TIAShadow& value);
  void SetGradual(const TIAGradual& value);
  void SetTexture(const TIATexture& value);

  TAlpha Alpha() const { return FAlpha; }
  TBlurStrength Blur() const { return FBlur; }
  TAngle Angle() const { return FAngle; }
  std::uint8_t Noise() const { return FNoise; }
  TSprayRange Spray() const { return FSpray; }
  bool Outline() const { return FOutline; }
  bool HorzMirror() const { return FHorzMirror; }
  bool VertMirror() const { return FVertMirror; }
  void SetAlpha(TAlpha value);
  void SetBlur(TBlurStrength value);
  void SetAngle(TAngle value);
  void SetNoise(std::uint8_t value);
  void SetSpray(TSprayRange value);
  void SetOutline(bool value);
  void SetHorzMirror(bool value);
  void SetVertMirror(bool value);

 private:
  std::unique_ptr<TIAShadow> FShadow;
  std::unique_ptr<TIAGradual> FGradual;
  std::unique_ptr<TIATexture> FTexture;
  TAlpha FAlpha = 100;
  TBlurStrength FBlur = 0;
  TAngle FAngle = 0;
  std::uint8_t FNoise = 0;
  TSprayRange FSpray = 0;
  bool FOutline = false;
  bool FHorzMirror = false;
  bool FVertMirror = false;
};
