#pragma once

// File names of the pictures, glyphs and sounds that the build makes
// (make_assets.cpp) and installs beside the program. The windows load them
// from the program directory.

namespace vantor::AssetNames {

// Main window: the picture above the answer group (200 x 123, transparent
// background) and the Next button's glyph (32 x 16: normal and disabled
// halves of 16 x 16).
inline constexpr const char* MainPicture = "main_picture.png";
inline constexpr const char* NextGlyph = "next_glyph.png";

// Help window: the welcome picture (300 x 100) and the close button's glyph
// (36 x 18: two halves of 18 x 18).
inline constexpr const char* HelpPicture = "help_picture.png";
inline constexpr const char* HelpCloseGlyph = "help_close_glyph.png";

// About window: the picture (200 x 100), the close button's glyph (32 x 16)
// and the eight 32 x 32 frames of its animators, "animator_0.png" to
// "animator_7.png".
inline constexpr const char* AboutPicture = "about_picture.png";
inline constexpr const char* AboutCloseGlyph = "about_close_glyph.png";
inline constexpr const char* AnimatorFramePattern = "animator_%1.png";
inline constexpr int AnimatorFrameCount = 8;

// The program's icon for the desktop's menu (128 x 128, transparent
// background): the question bubble over a badge.
inline constexpr const char* ProgramIcon = "vantor.png";

// Sounds of the game.
inline constexpr const char* RightSound = "CrowdCheers.wav";
inline constexpr const char* WrongSound = "wrong answer.wav";

}  // namespace vantor::AssetNames
