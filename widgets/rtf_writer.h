#pragma once

#include <cstdint>
#include <vector>

class QTextDocument;

namespace widgets {

// Writes a QTextDocument as rich text (RTF) that TRtfReader reads back to the
// same text, character formatting, paragraph formatting and pictures.
//
// Output form:
//   {\rtf1\ansi\ansicpg1252\deff0\uc1 {\fonttbl ...}{\colortbl ;...} body}
//   - font 0 is the document's default family; the families the text sets
//     explicitly follow as fonts 1..n; colour 0 is the default colour;
//   - each paragraph is "\pard" with its alignment and indents, then one group
//     per run "{\fN\fsN\b\i\ul\strike\cfN\highlightN text}" naming only the
//     properties the run sets, then "\par" (none after the last paragraph);
//   - characters: ASCII as is (with \\ \{ \} escaped), the rest of code page
//     1252 as \'hh, anything else as \uN? (N the signed UTF-16 unit);
//   - pictures: {\pict\pngblip\picwN\pichN\picwgoalN\pichgoalN hex}, every
//     image re-encoded as PNG.
class TRtfWriter {
 public:
  // The RTF bytes for the whole document. Throws nothing.
  static std::vector<std::uint8_t> Write(const QTextDocument& doc);
};

}  // namespace widgets
