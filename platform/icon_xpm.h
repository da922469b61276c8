#pragma once
// The program's icon: a desk telephone with "044" on its front, 32 x 32
// pixels in the 16 standard VGA colours, as XPM rows. The desktop windows
// show it; the Windows program's icon resource is made from it
// (tools/icon/ico_writer.h).
namespace kw {

inline constexpr const char* kIconXpm[] = {
    "32 32 8 1",
    ". c None",
    "k c #000000",
    "g c #808080",
    "r c #FF0000",
    "m c #800000",
    "w c #FFFFFF",
    "s c #C0C0C0",
    "b c #000080",
    "................................",
    "................................",
    "................................",
    ".....kkkkkkkkkkkkkkkkkkkkkk.....",
    "...kkkkkkkggggggggggggkkkkkkk...",
    "...kgggggkggggggggggggkgggggk...",
    "...kgggggkkkkkkkkkkkkkkgggggk...",
    "...kgggggk............kgggggk...",
    "...kgggggk............kgggggk...",
    "...kkkkkkk............kkkkkkk...",
    ".........kkk........kkk.........",
    ".........kkk........kkk.........",
    "........mmmmmmmmmmmmmmmm........",
    ".......mrrrrrrrrrrrrrrrrm.......",
    ".......mrrrrrrrrrrrrrrrrm.......",
    ".......mrrrrrrrrrrrrrrrrm.......",
    ".......mrssssssssssssssrm.......",
    "......mrrswwwwwwwwwwwwwrrm......",
    "......mrrsbbbwbwbwbwbwwrrm......",
    "......mrrsbwbwbwbwbwbwwrrm......",
    "......mrrsbwbwbbbwbbbwwrrm......",
    ".....mrrrsbwbwwwbwwwbwwrrrm.....",
    ".....mrrrsbbbwwwbwwwbwwrrrm.....",
    ".....mrrrswwwwwwwwwwwwwrrrm.....",
    ".....mrrrswwwwwwwwwwwwwrrrm.....",
    "....mrrrrrrrrrrrrrrrrrrrrrrm....",
    "....mrrrrrrrrrrrrrrrrrrrrrrm....",
    "....mmmmmmmmmmmmmmmmmmmmmmmm....",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "................................",
    "................................",
    "................................"};

}  // namespace kw
