#pragma once

namespace vorlan::session {

// Counts the session's handlers running now, over all its parts: the event pump must not be
// entered from one, and a message box waits until none runs.
class Running {
 public:
  explicit Running(int& depth) : m_depth(depth) { ++m_depth; }
  ~Running() { --m_depth; }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  Running(Running&&) = delete;
  Running& operator=(Running&&) = delete;

 private:
  int& m_depth;
};

}  // namespace vorlan::session
