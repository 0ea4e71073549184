// One run at a time per AppDir: a second run waits for the first.
#pragma once

#include <chrono>
#include <filesystem>

namespace fennick {

// How long a run waits for another run of the same AppDir before it gives up.
inline constexpr std::chrono::milliseconds kLockPatience = std::chrono::minutes{10};

// An exclusive lock on the AppDir directory itself (flock on the open
// directory), held for the object's life, so that no file is added to the
// folder. The lock goes with the process, so a killed run never leaves it
// held. Waiting longer than `patience` fails, naming the folder.
class RunLock {
  public:
    explicit RunLock(const std::filesystem::path& appDir,
                     std::chrono::milliseconds patience = kLockPatience);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

  private:
    int descriptor_ = -1;
};

}  // namespace fennick
