// The app test program's entry: one application object for every test, on
// the offscreen platform unless another one is asked for.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/vantor_application.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  vantor::TVantorApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
