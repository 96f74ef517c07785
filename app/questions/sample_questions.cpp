#include "app/questions/sample_questions.h"

#include <string>

#include "app/questions/question_pictures.h"
#include "app/questions/question_source.h"

namespace vantor {

namespace {

// Twips per screen pixel at 96 pixels per inch.
constexpr int TwipsPerPixel = 15;

// Text for RTF: braces and backslashes escaped, 8-bit characters as \'hh.
std::string Escape(const char* text) {
  static constexpr char Hex[] = "0123456789abcdef";
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x80) {
      out += "\\'";
      out += Hex[c >> 4];
      out += Hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> QuestionRtf(const sample::TQuestionSource& source,
                                      const unsigned char* png, std::size_t pngSize) {
  std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
      "{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fswiss Arial;}}\n"
      "{\\colortbl ;\\red0\\green51\\blue102;\\red128\\green128\\blue128;}\n";
  rtf +=
      "\\pard\\qc\\sa60{\\f1\\fs20\\b\\cf1 Question " + std::to_string(source.Order) + "}\\par\n";
  rtf += "\\pard\\qc\\sa120 " + Escape(sample::Prompt) + "\\par\n";
  if (png != nullptr && pngSize > 0) {
    static constexpr char Hex[] = "0123456789abcdef";
    rtf += "\\pard\\qc\\sa120{\\pict\\pngblip\\picw" + std::to_string(sample::PictureWidth) +
           "\\pich" + std::to_string(sample::PictureHeight) + "\\picwgoal" +
           std::to_string(sample::PictureWidth * TwipsPerPixel) + "\\pichgoal" +
           std::to_string(sample::PictureHeight * TwipsPerPixel) + "\n";
    for (std::size_t i = 0; i < pngSize; ++i) {
      rtf += Hex[png[i] >> 4];
      rtf += Hex[png[i] & 15];
      if (i % 64 == 63) rtf += '\n';
    }
    rtf += "}\\par\n";
  }
  for (int i = 0; i < 4; ++i) {
    rtf += "\\pard\\li1500{\\b " + std::string(1, static_cast<char>('A' + i)) + ".}  " +
           Escape(source.Choices[i]) + (i < 3 ? "\\par\n" : "\n");
  }
  rtf += "}\n";
  return std::vector<std::uint8_t>(rtf.begin(), rtf.end());
}

std::vector<TSampleQuestion> LoadSampleQuestions() {
  std::vector<TSampleQuestion> out;
  for (const sample::TQuestionSource& q : sample::Questions) {
    const std::span<const unsigned char> png = sample::FindQuestionPicture(q.Picture);
    TSampleQuestion record;
    record.QuizName = sample::QuizName;
    record.Order = q.Order;
    record.Question = QuestionRtf(q, png.data(), png.size());
    record.AnswerTx = std::string(1, q.Answer);
    out.push_back(std::move(record));
  }
  return out;
}

std::vector<std::optional<std::string>> RowValues(const TSampleQuestion& question) {
  return {question.QuizName, std::to_string(question.Order),
          std::string(question.Question.begin(), question.Question.end()), question.AnswerTx,
          question.UserAnswer};
}

}  // namespace vantor
