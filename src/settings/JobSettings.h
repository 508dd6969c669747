#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <climits>
#include <span>

// Every option of a job under its settings-file key, described once in the table below. The
// settings files, the command line's --set KEY=VALUE and the option controls of the main window
// are all driven by this table.
//
// Columns: key (also the enumerator), kind, minimum, maximum, maximum length of the text typed
// into a spin edit (0: not a spin edit), default value (switches 0/1, indexes, numbers, colours),
// default text (nullptr: a platform default, see DefaultFieldText), list items (choices).
//
// The rows are in the order in which a named settings file is read and written ("RsHeight"
// before "RsWidth": the width/height coupling of the window depends on it).
// clang-format off
#define QUILLOMAR_JOB_FIELDS(X)                                                              \
  X(InitDir,          Text,       0,       0,       0, 0,        nullptr, kNoItems)          \
  X(WatermarkChecked, Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(AspectRatio,      Switch,     0,       1,       0, 1,        "",      kNoItems)          \
  X(Filter,           Choice,     0,       0,       0, 7,        "",      kFilterItems)      \
  X(ChangeDPI,        Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(NewDPI,           Number,     2,       999,     3, 72,       "",      kNoItems)          \
  X(JPEGQuality,      Choice,     0,       0,       0, 14,       "",      kJpegQualityItems) \
  X(KeepDateTime,     Switch,     0,       1,       0, 1,        "",      kNoItems)          \
  X(RemoveExif,       Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(KeepQuality,      Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(OutputFormat,     Choice,     0,       0,       0, 0,        "",      kOutputFormatItems)\
  X(PNGComp,          Choice,     0,       0,       0, 9,        "",      kPngItems)         \
  X(RenameChecked,    Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(ResizeChecked,    Switch,     0,       1,       0, 1,        "",      kNoItems)          \
  X(RsAlign,          Choice,     0,       0,       0, 0,        "",      kAlignItems)       \
  X(RsMode,           Choice,     0,       0,       0, 1,        "",      kModeItems)        \
  X(RsType,           Choice,     0,       0,       0, 3,        "",      kTypeItems)        \
  X(RsValign,         Choice,     0,       0,       0, 0,        "",      kValignItems)      \
  X(TIFFComp,         Choice,     0,       0,       0, 0,        "",      kTiffItems)        \
  X(OutputFolder,     Text,       0,       0,       0, 0,        nullptr, kNoItems)          \
  X(RnMask,           Text,       0,       0,       0, 0,        "newname_####", kNoItems)   \
  X(WmType,           Choice,     0,       0,       0, 0,        "",      kWmTypeItems)      \
  X(WmText,           Text,       0,       0,       0, 0,        "Your Watermarking", kNoItems) \
  X(WmImage,          Text,       0,       0,       0, 0,        nullptr, kNoItems)          \
  X(RemoveBgChecked,  Switch,     0,       1,       0, 0,        "",      kNoItems)          \
  X(WmBgColor,        Colour,     INT_MIN, INT_MAX, 0, 16777215, "",      kNoItems)          \
  X(WmPosit,          Choice,     0,       0,       0, 9,        "",      kPositionItems)    \
  X(WmAngle,          Number,     -360,    360,     3, 0,        "",      kNoItems)          \
  X(WmTrans,          Number,     0,       100,     3, 60,       "",      kNoItems)          \
  X(RsHeight,         Number,     2,       9999,    4, 480,      "",      kNoItems)          \
  X(RsWidth,          Number,     2,       9999,    4, 640,      "",      kNoItems)          \
  X(StartNo,          Number,     1,       99999,   5, 1,        "",      kNoItems)          \
  X(BmpColor,         Choice,     0,       0,       0, 0,        "",      kBmpColorItems)    \
  X(GIFColor,         Choice,     0,       0,       0, 0,        "",      kGifColorItems)    \
  X(PCXColor,         Choice,     0,       0,       0, 0,        "",      kPaletteItems)     \
  X(TGAColor,         Choice,     0,       0,       0, 0,        "",      kPaletteItems)     \
  X(ChangeCase,       Choice,     0,       0,       0, 2,        "",      kCaseItems)        \
  X(FontName,         FontName,   0,       0,       0, 0,        "Arial", kNoItems)          \
  X(FontColor,        Colour,     INT_MIN, INT_MAX, 0, 16777215, "",      kNoItems)          \
  X(FontSize,         FontNumber, INT_MIN, INT_MAX, 0, 28,       "",      kNoItems)          \
  X(FontCharSet,      FontNumber, 0,       255,     0, 1,        "",      kNoItems)          \
  X(FontStyle,        FontNumber, 0,       15,      0, 1,        "",      kNoItems)          \
  X(FontPitch,        FontNumber, 0,       2,       0, 0,        "",      kNoItems)
// clang-format on

// The fields, in settings-file order.
enum class JobField : int {
#define QUILLOMAR_FIELD_ENUM(key, ...) key,
  QUILLOMAR_JOB_FIELDS(QUILLOMAR_FIELD_ENUM)
#undef QUILLOMAR_FIELD_ENUM
};

inline constexpr int kJobFieldCount = static_cast<int>(JobField::FontPitch) + 1;

// What kind of control holds a field, and so how its value is read, clamped and stored.
enum class FieldKind {
  Switch,      // on/off, stored "1"/"0"
  Choice,      // 0-based index into Items, -1 when nothing is selected
  Number,      // whole number within Min..Max (a spin edit)
  Text,        // one line of text
  Colour,      // colour value: red + 256 x green + 65536 x blue
  FontName,    // the watermark font's family name (text)
  FontNumber,  // a numeric property of the watermark font, within Min..Max
};

struct FieldInfo {
  JobField Id;
  const char* Key;
  FieldKind Kind;
  int Min;
  int Max;
  int MaxLength;  // characters a spin edit accepts; 0 when the field is not a spin edit
  int DefaultValue;
  const char* DefaultText;  // nullptr: computed by DefaultFieldText
  std::span<const char* const> Items;

  bool IsTextual() const { return Kind == FieldKind::Text || Kind == FieldKind::FontName; }
};

// The table, in settings-file order (43 rows).
std::span<const FieldInfo> JobFields();
const FieldInfo& FieldOf(JobField field);

// The field whose key equals key regardless of letter case; nullptr when there is none.
const FieldInfo* FindField(const QString& key);

// The key as a QString.
QString FieldKey(JobField field);

// Defaults of the folder fields that depend on the platform: "C:\" (InitDir) and "D:\"
// (OutputFolder) on Windows; elsewhere the home folder and the user's Pictures folder (the home
// folder when there is none). Both end with the separator.
QString DefaultInitDir();
QString DefaultOutputFolder();

// A job's options as a value: every field of the table above.
//
// Setters keep the value within what the field's control could show: a number is clamped to
// its range, a choice index outside its list becomes -1 (nothing selected), a switch is 0 or 1.
class JobSettings {
 public:
  // Every field at its default. appDir (ending with the separator) gives the default logo
  // path "WmImage", appDir + "Data/dontcopy.png".
  static JobSettings Defaults(const QString& appDir);

  bool On(JobField field) const { return Ints[Index(field)] != 0; }
  int Int(JobField field) const { return Ints[Index(field)]; }
  const QString& Text(JobField field) const { return Texts[Index(field)]; }

  void SetOn(JobField field, bool on);
  // Switch, choice, number, colour and font number fields; ignored for text fields.
  void SetInt(JobField field, int value);
  // Text and font name fields; ignored for the others.
  void SetText(JobField field, const QString& text);

  // The value of a spin edit whose typed text is text: the text is cut to the field's maximum
  // length; empty or non-numeric text reads as the minimum; the number is clamped to the range.
  void SetSpinText(JobField field, const QString& text);

  // Sets the field from a value written as in a settings file ("1"/"0", decimal or "0x" hex
  // integers, texts unchanged but trimmed). Returns false and leaves the field unchanged when
  // the value is not valid for the field (a number that is not an integer).
  bool SetFromSettingsText(JobField field, const QString& value);

  // The value as a settings file stores it.
  QString SettingsText(JobField field) const;

  // The item text of a choice field's selection; empty when nothing is selected.
  QString ChoiceText(JobField field) const;

  // Raises "StartNo" by one; at the top of its range it stays there.
  void AdvanceStartNo() { SetInt(JobField::StartNo, Int(JobField::StartNo) + 1); }

  bool operator==(const JobSettings&) const = default;

 private:
  static int Index(JobField field) { return static_cast<int>(field); }

  std::array<int, kJobFieldCount> Ints{};
  std::array<QString, kJobFieldCount> Texts{};
};

// Reads an integer as a settings file writes it: optional sign and decimal digits, or, for a
// text of more than two characters beginning with "0x"/"0X", hexadecimal. Returns false for
// anything else (empty text included) or a value outside 32 bits.
bool ParseSettingsInteger(const QString& text, int* value);
