#include "settings/JobSettings.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>

#include "util/PathText.h"

namespace {

// The choice lists of the option controls, item by item.
constexpr const char* kNoItemsArray[1] = {nullptr};
constexpr std::span<const char* const> kNoItems(kNoItemsArray, 0);
constexpr const char* kModeItems[] = {"Cut", "Fill"};
constexpr const char* kTypeItems[] = {"Use width and height", "Use height (keep aspect)",
                                      "Use width (keep aspect)",
                                      "Use width and height(keep aspect)"};
constexpr const char* kAlignItems[] = {"Left", "Center", "Right"};
constexpr const char* kValignItems[] = {"Top", "Middle", "Bottom"};
constexpr const char* kFilterItems[] = {"None",   "Triangle",   "Hermite",  "Bell",
                                        "Spline", "Lanczos3",   "Mitchell", "Nearest(recommend)",
                                        "Linear", "FastLinear", "Bilinear", "Bicubic"};
constexpr const char* kWmTypeItems[] = {"Input Text", "Image Logo"};
constexpr const char* kPositionItems[] = {
    "Randomize Position", "Top and Left",      "Top and Center",   "Top and Right",
    "Middle and Left",    "Middle and Center", "Middle and Right", "Bottom and Left",
    "Bottom and Center",  "Bottom and Right"};
constexpr const char* kOutputFormatItems[] = {"JPG (*.jpg)", "BMP (*.bmp)", "PNG (*.png)",
                                              "TIF (*.tif)", "GIF (*.gif)", "PCX (*.pcx)",
                                              "TGA (*.tga)"};
constexpr const char* kJpegQualityItems[] = {"10", "15", "20", "25", "30", "35", "40",
                                             "45", "50", "55", "60", "65", "70", "75",
                                             "80", "85", "90", "95", "100"};
constexpr const char* kBmpColorItems[] = {"Use colors of original", "Black and White", "16 Colors",
                                          "256 Colors", "True Color"};
constexpr const char* kPngItems[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
constexpr const char* kTiffItems[] = {"TIFF_UNCOMPRESSED", "TIFF_CCITT1D", "TIFF_G3FAX1D",
                                      "TIFF_G3FAX2D",      "TIFF_G4FAX",   "TIFF_LZW",
                                      "TIFF_PACKBITS"};
constexpr const char* kGifColorItems[] = {"Use colors of original",
                                          "Black and White",
                                          "4 Colors",
                                          "8 Colors",
                                          "16 Colors",
                                          "32 Colors",
                                          "64 Colors",
                                          "128 Colors",
                                          "256 Colors"};
constexpr const char* kPaletteItems[] = {"Use colors of original", "256 Colors", "True Color"};
constexpr const char* kCaseItems[] = {"Upper extension", "Lower extension", "Do not change"};

constexpr FieldInfo kFields[] = {
#define QUILLOMAR_FIELD_ROW(key, kind, min, max, maxLength, defaultValue, defaultText, items) \
  {JobField::key, #key,        FieldKind::kind,                                               \
   min,           max,         maxLength,                                                     \
   defaultValue,  defaultText, std::span<const char* const>(items)},
    QUILLOMAR_JOB_FIELDS(QUILLOMAR_FIELD_ROW)
#undef QUILLOMAR_FIELD_ROW
};

static_assert(std::size(kFields) == kJobFieldCount);

bool IsChoice(const FieldInfo& f) { return f.Kind == FieldKind::Choice; }
bool IsRanged(const FieldInfo& f) {
  return f.Kind == FieldKind::Number || f.Kind == FieldKind::FontNumber;
}

}  // namespace

std::span<const FieldInfo> JobFields() { return kFields; }

const FieldInfo& FieldOf(JobField field) { return kFields[static_cast<int>(field)]; }

const FieldInfo* FindField(const QString& key) {
  for (const FieldInfo& f : kFields)
    if (key.compare(QLatin1String(f.Key), Qt::CaseInsensitive) == 0) return &f;
  return nullptr;
}

QString FieldKey(JobField field) { return QLatin1String(FieldOf(field).Key); }

QString DefaultInitDir() {
#ifdef Q_OS_WIN
  return QStringLiteral("C:\\");
#else
  return WithTrailingBackslash(QDir::homePath());
#endif
}

QString DefaultOutputFolder() {
#ifdef Q_OS_WIN
  return QStringLiteral("D:\\");
#else
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QDir(pictures).exists()) return WithTrailingBackslash(pictures);
  return WithTrailingBackslash(QDir::homePath());
#endif
}

JobSettings JobSettings::Defaults(const QString& appDir) {
  JobSettings s;
  for (const FieldInfo& f : kFields) {
    if (f.IsTextual()) {
      if (f.DefaultText) s.Texts[Index(f.Id)] = QString::fromUtf8(f.DefaultText);
    } else {
      s.Ints[Index(f.Id)] = f.DefaultValue;
    }
  }
  s.Texts[Index(JobField::InitDir)] = DefaultInitDir();
  s.Texts[Index(JobField::OutputFolder)] = DefaultOutputFolder();
  s.Texts[Index(JobField::WmImage)] =
      WithTrailingBackslash(WithTrailingBackslash(appDir) + QStringLiteral("Data")) +
      QStringLiteral("dontcopy.png");
  return s;
}

void JobSettings::SetOn(JobField field, bool on) { SetInt(field, on ? 1 : 0); }

void JobSettings::SetInt(JobField field, int value) {
  const FieldInfo& f = FieldOf(field);
  switch (f.Kind) {
    case FieldKind::Switch:
      value = value != 0 ? 1 : 0;
      break;
    case FieldKind::Choice:
      if (value < 0 || value >= static_cast<int>(f.Items.size())) value = -1;
      break;
    case FieldKind::Number:
    case FieldKind::FontNumber:
      value = std::clamp(value, f.Min, f.Max);
      break;
    case FieldKind::Colour:
      break;
    case FieldKind::Text:
    case FieldKind::FontName:
      return;
  }
  Ints[Index(field)] = value;
}

void JobSettings::SetText(JobField field, const QString& text) {
  if (FieldOf(field).IsTextual()) Texts[Index(field)] = text;
}

void JobSettings::SetSpinText(JobField field, const QString& text) {
  const FieldInfo& f = FieldOf(field);
  if (!IsRanged(f)) return;
  const QString typed = f.MaxLength > 0 ? text.left(f.MaxLength) : text;
  bool ok = false;
  const int value = typed.trimmed().toInt(&ok);
  SetInt(field, ok ? value : f.Min);
}

bool JobSettings::SetFromSettingsText(JobField field, const QString& value) {
  const FieldInfo& f = FieldOf(field);
  if (f.IsTextual()) {
    SetText(field, value.trimmed());
    return true;
  }
  int number = 0;
  if (!ParseSettingsInteger(value.trimmed(), &number)) return false;
  SetInt(field, number);
  return true;
}

QString JobSettings::SettingsText(JobField field) const {
  if (FieldOf(field).IsTextual()) return Text(field);
  return QString::number(Int(field));
}

QString JobSettings::ChoiceText(JobField field) const {
  const FieldInfo& f = FieldOf(field);
  if (!IsChoice(f)) return {};
  const int i = Int(field);
  if (i < 0 || i >= static_cast<int>(f.Items.size())) return {};
  return QString::fromUtf8(f.Items[i]);
}

bool ParseSettingsInteger(const QString& text, int* value) {
  bool ok = false;
  if (text.size() > 2 && text[0] == QLatin1Char('0') &&
      (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X'))) {
    const QStringView digits = QStringView(text).mid(2);
    // Hexadecimal covers the whole 32 bits, so "0xFFFFFFFF" is -1 as in the Windows program.
    for (const QChar c : digits)
      if (!isxdigit(c.toLatin1())) return false;
    const qulonglong v = digits.toULongLong(&ok, 16);
    if (!ok || v > 0xFFFFFFFFull) return false;
    *value = static_cast<int>(static_cast<quint32>(v));
    return true;
  }
  // Decimal: an optional sign and digits only (no blanks, no fraction).
  if (text.isEmpty()) return false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isDigit() && c.unicode() < 128) continue;
    if (i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+')) && text.size() > 1) continue;
    return false;
  }
  const qlonglong v = text.toLongLong(&ok, 10);
  if (!ok || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}
