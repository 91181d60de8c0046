#pragma once

#include <vector>

namespace vorlan {

// A place and size in twips (1440 per inch), as window geometry is stored.
struct Twips {
  float left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Twips&) const = default;
};

// Where windows can stand: the available area of each screen, in twips, the first screen
// first. The widgets implement it; a program without windows has none.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual std::vector<Twips> Screens() const = 0;
};

}  // namespace vorlan
