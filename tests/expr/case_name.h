#pragma once
// Names the cases of a parameterised expression test after their text, so
// that CTest lists the same names on every run: "12_Amount_2_3_5" for case 12,
// "Amount / 2 = 3.5". The index keeps names unique; the text makes a failing
// case easy to find.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

struct TCaseName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    std::string_view text;
    if constexpr (requires { info.param.Text; })
      text = info.param.Text;
    else
      text = info.param.Subject;
    std::string name = std::to_string(info.index);
    bool gap = true;
    for (const char c : text) {
      if (name.size() >= 48) break;
      if (std::isalnum(static_cast<unsigned char>(c))) {
        if (gap) name += '_';
        name += c;
        gap = false;
      } else {
        gap = true;
      }
    }
    return name;
  }
};
