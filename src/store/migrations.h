#pragma once

#include <vector>

namespace vorlan::store {

// One numbered file of sql/, built into the program.
struct Migration {
  int version;
  const char* name;
  const char* sql;
};

// In order of their numbers.
const std::vector<Migration>& Migrations();

}  // namespace vorlan::store
