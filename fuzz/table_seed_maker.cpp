// Writes the seed corpus of the table harness: the seed table's three files,
// each behind the selector byte that tells the harness which file the input
// replaces (table_fuzzer.cpp).
//
//   table_seed_maker <corpus directory>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "table_seed.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: table_seed_maker <corpus directory>\n";
    return 2;
  }
  namespace fs = std::filesystem;
  try {
    const fs::path out = argv[1];
    fs::create_directories(out);
    const fs::path work = fs::temp_directory_path() / ("table_seed_" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    fuzzing::MakeSeedTable(work.string());
    const char* extensions[] = {".DAT", ".IDX", ".BLB"};
    const char* seedNames[] = {"seed_data", "seed_index", "seed_blob"};
    for (char selector = 0; selector < 3; ++selector) {
      const fs::path file =
          work / (std::string(fuzzing::SeedTableName) + extensions[static_cast<int>(selector)]);
      std::ifstream in(file, std::ios::binary);
      if (!in) throw std::runtime_error("missing " + file.string());
      std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
      std::ofstream seed(out / seedNames[static_cast<int>(selector)],
                         std::ios::binary | std::ios::trunc);
      seed.put(selector);
      seed.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!seed) throw std::runtime_error("cannot write the corpus");
    }
    fs::remove_all(work);
  } catch (const std::exception& e) {
    std::cerr << "table_seed_maker: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
