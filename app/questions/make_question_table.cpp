// Build-time program: writes the bundled question table "velmorn2" from the
// sample questions, encrypted with the quiz's password, and the "Vantor.ini"
// that points the program at it, into the directory given.
//
//   vantor_make_question_table DIR

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "app/questions/question_table.h"
#include "app/questions/sample_questions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantor_make_question_table DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  try {
    // The password the quiz registers before it opens the table.
    vantor::WriteQuestionTable(dir, vantor::LoadSampleQuestions(), "tamsin");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantor_make_question_table: %s\n", e.what());
    return 1;
  }
  // The table lies beside the program: a relative path is taken from the
  // program's directory.
  std::ofstream ini(dir + "/Vantor.ini", std::ios::binary | std::ios::trunc);
  ini << "[Z]\nPath=.\n";
  if (!ini.flush()) {
    std::fprintf(stderr, "vantor_make_question_table: cannot write %s/Vantor.ini\n", dir.c_str());
    return 1;
  }
  return 0;
}
