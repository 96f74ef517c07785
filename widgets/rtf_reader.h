#pragma once

#include <cstdint>
#include <span>

class QTextDocument;

namespace widgets {

// Reads rich text (RTF, the format the question blobs are stored in) into a
// QTextDocument, replacing its content.
//
// What is understood:
//   - groups "{...}" with the character state saved and restored per group;
//   - the font table (\fonttbl, \fN name;) and colour table (\colortbl,
//     \redN\greenN\blueN;, an empty entry meaning the default colour);
//   - character formatting: \plain \b \i \ul \ulnone (and the other underline
//     styles) \strike \fsN (half points) \fN \cfN \highlightN \cbN \super \sub
//     \nosupersub, each with an optional 0 to switch it off;
//   - paragraphs: \par, \pard, \ql \qc \qr \qj, \liN \riN \fiN \sbN \saN
//     (twips), \line, \tab, \page;
//   - characters: \'hh (code page 1252), \uN with \ucN fallback skipping,
//     \~ \- \_ \\ \{ \} and the named quotes, dashes and bullet;
//   - pictures: {\pict ...} with \pngblip or \jpegblip and hex (or \binN) data,
//     sized by \picwgoal/\pichgoal (twips) and \picscalex/\picscaley (percent),
//     or by the image's own pixels when no goal is given. Pictures of other
//     kinds (metafiles, device-independent bitmaps) are skipped.
//   - destinations that carry no visible text (\info, \stylesheet, headers,
//     footers, \nonshppict, any "{\*\word ...}" not listed here) are skipped.
//
// A character property that the text never sets is left unset in the
// document, so the document's default font applies to it: text without \fN
// and \fsN takes the font the view installs as its default format.
//
// Input that does not start with "{\rtf" is taken as plain text in code page
// 1252. Malformed input never fails: unknown control words are ignored,
// missing closing braces end the text, bad hex digits and pictures that do
// not decode are dropped, and anything after the brace that closes the
// document's group is ignored. Nesting deeper than MaxGroupDepth skips the
// deeper groups' content; inN never reads past the input. Nothing is
// thrown, and the work is linear in the input's size.
class TRtfReader {
 public:
  static constexpr int MaxGroupDepth = 256;

  // Replaces the content of `doc` with the text read from `rtf`. Images are
  // added to the document as resources named "rtfpict:<n>".
  static void Read(std::span<const std::uint8_t> rtf, QTextDocument& doc);

  // True when the bytes look like RTF (start with "{\rtf", after blanks).
  static bool LooksLikeRtf(std::span<const std::uint8_t> bytes);
};

}  // namespace widgets
