#include "dynap/study_lock.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "dynap/checkpoint.h"
#include "dynap/files.h"
#include "dynap/summary.h"
#include "run/run_folder.h"

namespace bbtrack {
namespace {

void warn(const std::string& text) {
  dynap_say("diff2wirenew: warning: dynap: " + text + "\n");
}

// The merge removes the results of its --out first: refused when that is
// the folder of one of the shards (the same device and inode, after links).
void refuse_merge_into_shard(const DynapOptions& o) {
  struct stat out;
  if (::stat(o.out.c_str(), &out) != 0) return;
  for (std::size_t k = 0; k < o.merge.size(); ++k) {
    struct stat sh;
    if (::stat(o.merge[k].c_str(), &sh) == 0 && sh.st_dev == out.st_dev && sh.st_ino == out.st_ino)
      throw DynapRefusal(
          "--out " + o.out + " is the folder of shard " + std::to_string(k + 1) + "/" +
          std::to_string(o.merge.size()) + " (" + o.merge[k] +
          "): the merge would remove that shard's results; merge into another folder");
  }
}

void lock_folder(const std::string& dir) {
  // Kept open, and so locked, until the process ends.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    struct stat sb {};
    if (fd >= 0 && err == EWOULDBLOCK) {
      const long pid = ::fstat(fd, &sb) == 0 ? lock_holder(sb.st_dev, sb.st_ino) : 0;
      ::close(fd);
      throw DynapRefusal(
          "another study or run (" +
          (pid > 0 ? "process " + std::to_string(pid) : std::string("another process")) +
          ") is writing in the results folder " + dir +
          "; two studies in one folder would mix their files: wait for it to end, "
          "or use another --out");
    }
    if (fd >= 0) ::close(fd);
    warn("the results folder " + dir + " cannot be locked (" + std::strerror(err) +
         "): a second study started in it would not be refused");
  }
}

}  // namespace

void prepare_results_folder(const DynapOptions& o) {
  if (!o.merge.empty()) refuse_merge_into_shard(o);
  make_results_folder(o.out);
  lock_folder(o.out);
  if (o.resume) return;  // a refused resume leaves the folder as it was
  for (const char* name : {kParticlesFile, kAnglesFile, kSummaryName, kTbtFile, kShardFile})
    remove_result(o.out, name);
  if (o.merge.empty()) remove_checkpoints(o.out);
}

int study_threads(const DynapOptions& o) {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int procs = ::sched_getaffinity(0, sizeof set, &set) == 0
                        ? CPU_COUNT(&set)
                        : static_cast<int>(std::thread::hardware_concurrency());
  if (procs > 0 && o.threads > procs) {
    warn("--threads " + std::to_string(o.threads) + " is more than the " + std::to_string(procs) +
         " processors this study may use: it uses " + std::to_string(procs));
    return procs;
  }
  return o.threads;
}

}  // namespace bbtrack
