#pragma once

// The sample questions in their source form: one entry per record of the
// question table "velmorn2". Each question shows a picture of an object and
// four named choices; the player clicks the name of the object. The pictures
// are drawn at build time (app/assets/make_assets.cpp draws each by its
// Picture name) and embedded into the question's rich text by the loader
// (sample_questions.h).
//
// Invariants: (1) Order values are unique and ascending; (2) Answer is one of
// 'A'..'D' and names the choice that matches the picture; (3) every Picture
// name has a drawing in make_assets.cpp.

#include <cstdint>

namespace vantor::sample {

struct TQuestionSource {
  std::int16_t Order;
  const char* Picture;
  const char* Choices[4];  // the texts of A, B, C and D
  char Answer;
};

inline constexpr const char* QuizName = "Objects";
inline constexpr const char* Prompt = "Click the name of the object that you see.";

// Size in pixels of every question picture.
inline constexpr int PictureWidth = 160;
inline constexpr int PictureHeight = 120;

inline constexpr TQuestionSource Questions[] = {
    {1, "apple", {"Pear", "Apple", "Orange", "Plum"}, 'B'},
    {2, "sun", {"Sun", "Moon", "Star", "Lamp"}, 'A'},
    {3, "tree", {"Bush", "Flower", "Tree", "Cactus"}, 'C'},
    {4, "house", {"Tent", "Castle", "Barn", "House"}, 'D'},
    {5, "car", {"Car", "Bus", "Truck", "Train"}, 'A'},
    {6, "sailboat", {"Canoe", "Steamship", "Sailboat", "Raft"}, 'C'},
    {7, "fish", {"Whale", "Fish", "Crab", "Frog"}, 'B'},
    {8, "umbrella", {"Kite", "Hat", "Fan", "Umbrella"}, 'D'},
    {9, "clock", {"Plate", "Wheel", "Clock", "Compass"}, 'C'},
    {10, "key", {"Key", "Spoon", "Nail", "Lock"}, 'A'},
    {11, "cup", {"Bowl", "Vase", "Bottle", "Cup"}, 'D'},
    {12, "balloon", {"Ball", "Balloon", "Kite", "Bubble"}, 'B'},
    {13, "star", {"Flower", "Snowflake", "Star", "Diamond"}, 'C'},
    {14, "moon", {"Banana", "Moon", "Sun", "Cloud"}, 'B'},
};

}  // namespace vantor::sample
