// A progress line on standard error for imports that take a while: after about a second the
// line shows the file, the stage and the time so far, and is rewritten in place until the file
// is done, when it is cleared. Only for a terminal: a disabled Progress never writes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace quillmesh::tool {

class Progress {
  public:
    Progress(std::ostream& err, bool enabled, std::string file);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The stage the file is in now ("importing", "exporting"); a static text.
    void stage(const char* name);
    // Writes `text` to the error stream, clearing the progress line first.
    void write(const std::string& text);
    // Clears the line and stops; the object may then be destroyed or left.
    void done();

  private:
    void tick();
    void clearLine();

    std::ostream& err_;
    std::string file_;
    std::chrono::steady_clock::time_point started_;
    std::atomic<const char*> stage_{""};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::size_t shown_ = 0;  // characters of the line on the screen now
    std::thread thread_;
};

}  // namespace quillmesh::tool
