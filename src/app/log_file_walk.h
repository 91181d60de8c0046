#pragma once

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "app/work_progress.h"
#include "logging/log_stream.h"

namespace vorlan {

// Log files read one after another through the bounded reader, a bounded piece of work per
// step: the walk that File > Import and File > Export share. What each does with a file and its
// lines is theirs; they move on to the next file with Next().
class LogFileWalk {
 public:
  // One step: this many bytes of the files, or this much time, whichever ends first.
  static constexpr qint64 kStepBytes = qint64{1} << 20;
  static constexpr std::chrono::milliseconds kStepTime{20};
  // Lines read between two looks at the clock.
  static constexpr int kLinesBetweenLooks = 256;

  explicit LogFileWalk(QStringList files) : m_files(std::move(files)) {
    for (const QString& name : m_files) {
      m_sizes.push_back(std::max<qint64>(QFileInfo(name).size(), 1));
      m_totalBytes += m_sizes.back();
    }
  }

  // Reads on until the step is used up (its progress) or every file is done (nothing).
  // `opened(error)` is called for each file as it opens, `error` null when it opened; a file that
  // cannot be opened is passed by. `line(line)` comes for each line, `ended()` at a file's end.
  template <typename Opened, typename Line, typename Ended>
  std::optional<SteppedWork::Progress> Step(Opened opened, Line line, Ended ended) {
    QElapsedTimer clock;
    clock.start();
    const qint64 until = Done() + kStepBytes;
    while (m_next < m_files.size()) {
      if (Done() >= until || clock.elapsed() >= kStepTime.count()) {
        return SteppedWork::Progress{Done(), m_totalBytes};
      }
      if (!m_reader) {
        m_reader.emplace();
        QString error;
        if (!m_reader->Open(Current(), error)) {
          opened(&error);
          Next();
          continue;
        }
        opened(nullptr);
      }
      for (int i = 0; i < kLinesBetweenLooks && m_reader; ++i) {
        const std::optional<logging::LogLine> next = m_reader->Next();
        if (next) {
          line(*next);
        } else {
          ended();
        }
      }
    }
    return std::nullopt;
  }

  const QStringList& Files() const { return m_files; }
  // The file being read.
  const QString& Current() const { return m_files[m_next]; }
  const logging::LogFileReader& Reader() const { return *m_reader; }
  // Done with the current file: on to the next.
  void Next() {
    m_bytesBefore += m_sizes[size_t(m_next)];
    m_reader.reset();
    ++m_next;
  }

 private:
  qint64 Done() const { return m_bytesBefore + (m_reader ? m_reader->Position() : 0); }

  QStringList m_files;
  std::vector<qint64> m_sizes;
  qint64 m_totalBytes = 0;
  qsizetype m_next = 0;
  qint64 m_bytesBefore = 0;                        // of the files done
  std::optional<logging::LogFileReader> m_reader;  // of Current(), once opened
};

}  // namespace vorlan
