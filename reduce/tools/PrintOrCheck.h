// The command line every table generator here shares:
//
//   NAME               prints the table
//   NAME --check FILE  exits 0 when FILE holds exactly that table, 1 when it does not
//
// A generator that could not make its table passes it empty, with why: NAME then says so and
// exits 1 either way.
#pragma once

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

inline int PrintOrCheck(int argc, char** argv, const char* name, const std::string& table,
                        const char* whyEmpty = "the table came out empty") {
  if (table.empty()) {
    std::cerr << name << ": " << whyEmpty << "\n";
    return 1;
  }
  if (argc == 3 && std::string(argv[1]) == "--check") {
    std::ifstream file(argv[2], std::ios::binary);
    const std::string kept{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (kept == table) return 0;
    std::cerr << argv[2] << " is not the table " << name << " makes\n";
    return 1;
  }
  if (argc != 1) {
    std::cerr << "usage: " << name << " [--check FILE]\n";
    return 2;
  }
  std::cout << table;
  return 0;
}
