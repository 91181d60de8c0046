#pragma once

#include <QtGlobal>

#include <random>

namespace pbxsim {

// A seeded source with its own bounded draws: mt19937's output is fixed by the language, the
// standard distributions are not, so a seed gives the same run with any standard library.
class Random {
 public:
  explicit Random(quint32 seed) : m_engine(seed) {}

  // Uniform in [low, high]; high must not be below low.
  qint64 Between(qint64 low, qint64 high) {
    const auto span = static_cast<quint64>(high - low) + 1;
    const quint64 draw = (static_cast<quint64>(m_engine()) << 32) | m_engine();
    return low + static_cast<qint64>(span == 0 ? draw : draw % span);
  }

  // True with the given probability; 0 never, 1 always.
  bool Chance(double probability) {
    if (probability <= 0) return false;
    return static_cast<double>(m_engine()) / 4294967296.0 < probability;
  }

 private:
  std::mt19937 m_engine;
};

}  // namespace pbxsim
