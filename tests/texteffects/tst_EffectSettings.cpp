#include <QtTest>
#include <functional>

#include "texteffects/uFont.h"

// The effect settings tree: defaults, who hears a change, and Assign.
class TestEffectSettings : public QObject {
  Q_OBJECT

 private slots:
  void NewEffectHasDefaults();
  void Notifications_data();
  void Notifications();
  void EnabledAlwaysNotifies();
  void TexturePictureNotifiesWhileEnabled();
  void AssignEffectCopiesEverything();
  void AssignShadowToGradualCopiesOnlyEnabled();
  void AssignForeignSourceRaises_data();
  void AssignForeignSourceRaises();
  void SetGroupAssignsAndNotifies();
};

namespace {

// Counts the notifications that reach an effect's own callback, with the sender.
struct Listener {
  int Count = 0;
  TNotifyClass* LastSender = nullptr;
  TNotifyEvent Callback() {
    return [this](TNotifyClass* sender) {
      ++Count;
      LastSender = sender;
    };
  }
};

}  // namespace

void TestEffectSettings::NewEffectHasDefaults() {
  TIAEffect effect;
  QCOMPARE(effect.Alpha(), TAlpha(100));
  QCOMPARE(effect.Blur(), TBlurStrength(0));
  QCOMPARE(effect.Angle(), TAngle(0));
  QCOMPARE(effect.Noise(), std::uint8_t(0));
  QCOMPARE(effect.Spray(), TSprayRange(0));
  QVERIFY(!effect.Outline());
  QVERIFY(!effect.HorzMirror());
  QVERIFY(!effect.VertMirror());

  const TIAShadow& shadow = effect.Shadow();
  QVERIFY(!shadow.Enabled());
  QCOMPARE(shadow.Blur(), TBlurStrength(80));
  QCOMPARE(shadow.Alpha(), TAlpha(70));
  QCOMPARE(shadow.Color(), TColor(4473924));
  QCOMPARE(ColorToRgb(shadow.Color()), qRgb(68, 68, 68));
  QCOMPARE(shadow.OffsetX(), TOffset(2));
  QCOMPARE(shadow.OffsetY(), TOffset(2));

  const TIAGradual& gradual = effect.Gradual();
  QVERIFY(!gradual.Enabled());
  QCOMPARE(gradual.Style(), gsLeftToRight);
  QCOMPARE(gradual.StartColor(), TColor(16777215));
  QCOMPARE(gradual.EndColor(), TColor(0));

  const TIATexture& texture = effect.Texture();
  QVERIFY(!texture.Enabled());
  QCOMPARE(texture.Mode(), tmTiled);
  QVERIFY(texture.Picture().IsEmpty());
}

using Setter = std::function<void(TIAEffect&)>;
Q_DECLARE_METATYPE(Setter)

// Each row sets one property (after an optional preparation that is not counted) and states how
// many notifications reach the effect's callback.
void TestEffectSettings::Notifications_data() {
  QTest::addColumn<Setter>("prepare");
  QTest::addColumn<Setter>("change");
  QTest::addColumn<int>("expected");
  const Setter nothing = [](TIAEffect&) {};
  const Setter enableAll = [](TIAEffect& e) {
    e.Shadow().SetEnabled(true);
    e.Gradual().SetEnabled(true);
    e.Texture().SetEnabled(true);
  };

  QTest::newRow("effect alpha") << nothing << Setter([](TIAEffect& e) { e.SetAlpha(50); }) << 1;
  QTest::newRow("effect alpha unchanged")
      << nothing << Setter([](TIAEffect& e) { e.SetAlpha(100); }) << 0;
  QTest::newRow("effect angle") << nothing << Setter([](TIAEffect& e) { e.SetAngle(-90); }) << 1;
  QTest::newRow("effect noise, spray, blur") << nothing << Setter([](TIAEffect& e) {
    e.SetNoise(10);
    e.SetSpray(3);
    e.SetBlur(20);
  }) << 3;
  QTest::newRow("effect flags") << nothing << Setter([](TIAEffect& e) {
    e.SetOutline(true);
    e.SetHorzMirror(true);
    e.SetVertMirror(true);
    e.SetVertMirror(true);
  }) << 3;
  QTest::newRow("disabled shadow blur")
      << nothing << Setter([](TIAEffect& e) { e.Shadow().SetBlur(10); }) << 0;
  QTest::newRow("disabled gradual colour")
      << nothing << Setter([](TIAEffect& e) { e.Gradual().SetEndColor(255); }) << 0;
  QTest::newRow("disabled texture mode")
      << nothing << Setter([](TIAEffect& e) { e.Texture().SetMode(tmCenter); }) << 0;
  QTest::newRow("enabled shadow every field") << enableAll << Setter([](TIAEffect& e) {
    e.Shadow().SetBlur(10);
    e.Shadow().SetAlpha(50);
    e.Shadow().SetColor(0);
    e.Shadow().SetOffsetX(-3);
    e.Shadow().SetOffsetY(4);
  }) << 5;
  QTest::newRow("enabled shadow same values") << enableAll << Setter([](TIAEffect& e) {
    e.Shadow().SetBlur(80);
    e.Shadow().SetOffsetX(2);
  }) << 0;
  QTest::newRow("enabled gradual") << enableAll << Setter([](TIAEffect& e) {
    e.Gradual().SetStyle(gsCenterToTB);
    e.Gradual().SetStartColor(1);
  }) << 2;
  QTest::newRow("enabled texture mode")
      << enableAll << Setter([](TIAEffect& e) { e.Texture().SetMode(tmStretched); }) << 1;
}

void TestEffectSettings::Notifications() {
  QFETCH(Setter, prepare);
  QFETCH(Setter, change);
  QFETCH(int, expected);
  Listener listener;
  TIAEffect effect(listener.Callback());
  prepare(effect);
  listener.Count = 0;
  change(effect);
  QCOMPARE(listener.Count, expected);
  if (expected > 0) QCOMPARE(listener.LastSender, static_cast<TNotifyClass*>(&effect));
}

void TestEffectSettings::EnabledAlwaysNotifies() {
  Listener listener;
  TIAShadow shadow(listener.Callback());
  shadow.SetBlur(5);  // disabled: stored, not reported
  QCOMPARE(shadow.Blur(), TBlurStrength(5));
  QCOMPARE(listener.Count, 0);
  shadow.SetEnabled(true);
  QCOMPARE(listener.Count, 1);
  QCOMPARE(listener.LastSender, static_cast<TNotifyClass*>(&shadow));
  shadow.SetEnabled(true);
  QCOMPARE(listener.Count, 1);
  shadow.SetEnabled(false);  // switching off is heard too
  QCOMPARE(listener.Count, 2);
  shadow.SetAlpha(1);
  QCOMPARE(listener.Count, 2);
}

void TestEffectSettings::TexturePictureNotifiesWhileEnabled() {
  Listener listener;
  TIAEffect effect(listener.Callback());
  QImage tile(4, 4, QImage::Format_RGB32);
  tile.fill(Qt::red);
  TIAPicture picture;
  picture.SetGraphic(tile);

  effect.Texture().SetPicture(picture);
  QCOMPARE(listener.Count, 0);
  QCOMPARE(effect.Texture().Picture().Graphic(), tile);

  effect.Texture().SetEnabled(true);
  listener.Count = 0;
  effect.Texture().Picture().Clear();
  QCOMPARE(listener.Count, 1);
  QVERIFY(effect.Texture().Picture().IsEmpty());
}

void TestEffectSettings::AssignEffectCopiesEverything() {
  TIAEffect source;
  source.SetAlpha(37);
  source.SetBlur(12);
  source.SetAngle(-45);
  source.SetNoise(200);
  source.SetSpray(9);
  source.SetOutline(true);
  source.SetHorzMirror(true);
  source.SetVertMirror(true);
  source.Shadow().SetEnabled(true);
  source.Shadow().SetBlur(0);
  source.Shadow().SetAlpha(50);
  source.Shadow().SetColor(255);
  source.Shadow().SetOffsetX(-3);
  source.Shadow().SetOffsetY(4);
  source.Gradual().SetEnabled(true);
  source.Gradual().SetStyle(gsBottomToTop);
  source.Gradual().SetStartColor(123);
  source.Gradual().SetEndColor(456);
  source.Texture().SetEnabled(true);
  source.Texture().SetMode(tmNormal);
  QImage tile(3, 2, QImage::Format_RGB32);
  tile.fill(Qt::blue);
  source.Texture().Picture().SetGraphic(tile, TIAPicture::Icon);

  Listener listener;
  TIAEffect target(listener.Callback());
  TIAShadow* shadowBefore = &target.Shadow();
  TIAGradual* gradualBefore = &target.Gradual();
  TIATexture* textureBefore = &target.Texture();
  target.Assign(source);

  QCOMPARE(target.Alpha(), TAlpha(37));
  QCOMPARE(target.Blur(), TBlurStrength(12));
  QCOMPARE(target.Angle(), TAngle(-45));
  QCOMPARE(target.Noise(), std::uint8_t(200));
  QCOMPARE(target.Spray(), TSprayRange(9));
  QVERIFY(target.Outline() && target.HorzMirror() && target.VertMirror());
  QVERIFY(target.Shadow().Enabled());
  QCOMPARE(target.Shadow().Blur(), TBlurStrength(0));
  QCOMPARE(target.Shadow().Alpha(), TAlpha(50));
  QCOMPARE(target.Shadow().Color(), TColor(255));
  QCOMPARE(target.Shadow().OffsetX(), TOffset(-3));
  QCOMPARE(target.Shadow().OffsetY(), TOffset(4));
  QVERIFY(target.Gradual().Enabled());
  QCOMPARE(target.Gradual().Style(), gsBottomToTop);
  QCOMPARE(target.Gradual().StartColor(), TColor(123));
  QCOMPARE(target.Gradual().EndColor(), TColor(456));
  QVERIFY(target.Texture().Enabled());
  QCOMPARE(target.Texture().Mode(), tmNormal);
  QCOMPARE(target.Texture().Picture().Graphic(), tile);
  QCOMPARE(target.Texture().Picture().Kind(), TIAPicture::Icon);
  // The target keeps its own groups.
  QCOMPARE(&target.Shadow(), shadowBefore);
  QCOMPARE(&target.Gradual(), gradualBefore);
  QCOMPARE(&target.Texture(), textureBefore);
  QVERIFY(&target.Shadow() != &source.Shadow());
  // The copied picture is reported by its holder (the texture is enabled by then); Assign
  // itself reports nothing else.
  QCOMPARE(listener.Count, 1);
}

void TestEffectSettings::AssignShadowToGradualCopiesOnlyEnabled() {
  TIAShadow shadow;
  shadow.SetEnabled(true);
  shadow.SetColor(255);
  TIAGradual gradual;
  gradual.Assign(shadow);
  QVERIFY(gradual.Enabled());
  QCOMPARE(gradual.StartColor(), TColor(16777215));
  QCOMPARE(gradual.EndColor(), TColor(0));
  QCOMPARE(gradual.Style(), gsLeftToRight);
}

using Assignment = std::function<void()>;
Q_DECLARE_METATYPE(Assignment)

void TestEffectSettings::AssignForeignSourceRaises_data() {
  QTest::addColumn<Assignment>("assign");
  QTest::addColumn<QString>("message");
  QTest::newRow("mask to shadow") << Assignment([] {
    TIAMask mask;
    TIAShadow shadow;
    shadow.Assign(mask);
  }) << "Cannot assign a TIAMask to a TIAShadow";
  QTest::newRow("picture to effect") << Assignment([] {
    TIAPicture picture;
    TIAEffect effect;
    effect.Assign(picture);
  }) << "Cannot assign a TPicture to a TIAEffect";
  QTest::newRow("effect to mask") << Assignment([] {
    TIAEffect effect;
    TIAMask mask;
    mask.Assign(effect);
  }) << "Cannot assign a TIAEffect to a TIAMask";
  QTest::newRow("mask to blend") << Assignment([] {
    TIAMask mask;
    TIABlend blend;
    blend.Assign(mask);
  }) << "Cannot assign a TIAMask to a TIABlend";
}

void TestEffectSettings::AssignForeignSourceRaises() {
  QFETCH(Assignment, assign);
  QFETCH(QString, message);
  try {
    assign();
    QFAIL("no error raised");
  } catch (const EAssignError& error) {
    QCOMPARE(error.Text(), message);
  }
}

void TestEffectSettings::SetGroupAssignsAndNotifies() {
  Listener listener;
  TIAEffect effect(listener.Callback());
  TIAShadow shadow;
  shadow.SetOffsetX(-5);
  TIAShadow* own = &effect.Shadow();
  effect.SetShadow(shadow);
  QCOMPARE(&effect.Shadow(), own);
  QCOMPARE(effect.Shadow().OffsetX(), TOffset(-5));
  QCOMPARE(listener.Count, 1);
}

QTEST_MAIN(TestEffectSettings)
#include "tst_EffectSettings.moc"
