#pragma once

// The question pictures as PNG bytes, compiled into the program. The build
// draws them (app/assets/make_assets.cpp) and writes question_pictures.cpp.

#include <cstddef>
#include <span>
#include <string_view>

namespace vantor::sample {

struct TPictureData {
  const char* Name;
  const unsigned char* Bytes;
  std::size_t Size;
};

// Every picture, in the order of the question table.
std::span<const TPictureData> QuestionPictures();

// The PNG bytes of the picture called `name`; empty when there is none.
std::span<const unsigned char> FindQuestionPicture(std::string_view name);

}  // namespace vantor::sample
