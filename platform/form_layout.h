#pragma once
// The window `Frm_Kwandor_Upd` as it was designed: texts, inner size and
// the places of its labels, in twips. Every desktop window shows it so.
namespace kw::form {

inline constexpr char kTitle[] = "Anpassen der Telefonvorwahlen";
// The title of every message box: the program's.
inline constexpr char kBoxTitle[] = "Kwandor_Upd";
// `Label4`, one line of 234 characters that wraps within the label.
inline constexpr char kDescription[] =
    "Dieses Programm ersetzt im Postleitzahlenstamm und in allen Mandanten, welche auf "
    "Version 6.4 (und höher) umgestellt sind, die Telefonvorwahlen. Wenn Land = 'CH' ist und "
    "die Telefonvorwahl ='01' ist, wird die Vorwahl '044' eingesetzt.";

inline constexpr int kInnerWidth = 4545;
inline constexpr int kInnerHeight = 2160;
// Grey, RGB.
inline constexpr int kBackground[3] = {192, 192, 192};

inline constexpr char kFontName[] = "MS Sans Serif";
inline constexpr double kFontPoints = 8.25;

struct LabelPlace {
  int top;
  int height;
};
inline constexpr int kLabelLeft = 120;
inline constexpr int kLabelWidth = 4335;
// `Label1` to `Label4`; [0] unused.
inline constexpr LabelPlace kLabels[5] = {{0, 0}, {1125, 285}, {1425, 285}, {1725, 285}, {75, 915}};

}  // namespace kw::form
