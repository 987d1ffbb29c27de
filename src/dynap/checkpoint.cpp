#include "dynap/checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <type_traits>

#include "dynap/files.h"
#include "run/version.h"

namespace bbtrack {
namespace {

constexpr char kMagic[8] = {'B', 'B', 'D', 'Y', 'N', 'C', 'K', '2'};
constexpr std::size_t kHead = sizeof kMagic + 2 * sizeof(std::uint64_t);

// A checkpoint holds at most a batch's signals (kSignalBudget) and its
// records: a file larger than this is none.
constexpr std::uint64_t kCheckpointLimit = (std::uint64_t{1} << 30);

std::string file_name(int k) { return ".dynap_checkpoint." + std::to_string(k); }

template <class T>
void put(std::string& b, const T& v) {
  static_assert(std::is_trivially_copyable_v<T>);
  b.append(reinterpret_cast<const char*>(&v), sizeof v);
}
template <class T>
void put_vec(std::string& b, const std::vector<T>& v) {
  put(b, static_cast<std::uint64_t>(v.size()));
  if (!v.empty()) b.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

struct Damaged {};

struct Reader {
  std::string_view b;
  template <class T>
  void get(T& v) {
    if (b.size() < sizeof v) throw Damaged{};
    std::memcpy(&v, b.data(), sizeof v);
    b.remove_prefix(sizeof v);
  }
  template <class T>
  void get_vec(std::vector<T>& v) {
    std::uint64_t n = 0;
    get(n);
    if (n > b.size() / sizeof(T)) throw Damaged{};
    v.resize(static_cast<std::size_t>(n));
    if (n) std::memcpy(v.data(), b.data(), static_cast<std::size_t>(n) * sizeof(T));
    b.remove_prefix(static_cast<std::size_t>(n) * sizeof(T));
  }
};

[[noreturn]] void fail(const std::string& what, const std::string& path) { fail_io(what, path); }

}  // namespace

void write_checkpoint(const std::string& dir, const StudyIdentity& identity,
                      const DynapCheckpoint& c) {
  std::string p;
  const std::string id = identity.text();
  put_vec(p, std::vector<char>(id.begin(), id.end()));
  put(p, c.seq);
  put(p, c.first);
  put(p, c.turn);
  put(p, c.lost);
  put(p, c.with_index);
  put(p, c.chaotic);
  put(p, c.min_lost_amp);
  put_vec(p, c.first_lost);
  put(p, c.rows_size);
  put(p, c.rows_hash);
  put(p, c.tbt_size);
  put(p, c.tbt_hash);
  put_vec(p, c.batch);
  put_vec(p, c.slot_ids);
  put_vec(p, c.coords);
  put(p, c.npart);
  put(p, c.nlost);
  put_vec(p, c.signals);
  if (!c.longitudinal.empty() || !c.sync_signals.empty()) {
    put_vec(p, c.longitudinal);
    put_vec(p, c.sync_signals);
  }
  std::string head(kMagic, sizeof kMagic);
  put(head, static_cast<std::uint64_t>(p.size()));
  put(head, fnv1a(kFnvBasis, p));

  const std::string to = path_of(dir, file_name(static_cast<int>(c.seq % 2)));
  const std::string tmp = to + ".tmp";
  ::unlink(tmp.c_str());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) fail("create", tmp);
  for (std::string_view rest : {std::string_view(head), std::string_view(p)}) {
    while (!rest.empty()) {
      const ssize_t n = ::write(fd, rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fd);
        ::unlink(tmp.c_str());
        fail("write", tmp);
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(tmp.c_str());
    fail("write", tmp);
  }
  if (::rename(tmp.c_str(), to.c_str()) != 0) fail("write", to);
  // the rename itself on disk
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

std::vector<DynapCheckpoint> read_checkpoints(const std::string& dir,
                                              const StudyIdentity& identity, std::string& why) {
  std::vector<DynapCheckpoint> found;
  for (int k = 0; k < 2; ++k) {
    const std::string name = file_name(k);
    std::string bytes;
    auto refuse = [&](const std::string& what) {
      if (!why.empty()) why += "; ";
      why += name;
      why += ": ";
      why += what;
    };
    std::string bad;
    if (!read_regular(path_of(dir, name), kCheckpointLimit, bytes, bad)) {
      refuse(bad);
      continue;
    }
    try {
      Reader r{bytes};
      char magic[sizeof kMagic];
      r.get(magic);
      if (std::memcmp(magic, kMagic, sizeof kMagic - 1) == 0 &&
          magic[sizeof kMagic - 1] != kMagic[sizeof kMagic - 1]) {
        refuse("of another layout (written by another program version)");
        continue;
      }
      if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) throw Damaged{};
      std::uint64_t size = 0, sum = 0;
      r.get(size);
      r.get(sum);
      if (size != bytes.size() - kHead) {
        refuse("torn (not the length it records)");
        continue;
      }
      if (fnv1a(kFnvBasis, r.b) != sum) {
        refuse("damaged (checksum)");
        continue;
      }
      std::vector<char> id_text;
      r.get_vec(id_text);
      StudyIdentity id;
      if (!StudyIdentity::parse(std::string_view(id_text.data(), id_text.size()), id))
        throw Damaged{};
      if (const std::string d = identity_difference(identity, id, "this study", "the checkpoint's");
          !d.empty()) {
        refuse("of another study: " + d);
        continue;
      }
      DynapCheckpoint c;
      r.get(c.seq);
      r.get(c.first);
      r.get(c.turn);
      r.get(c.lost);
      r.get(c.with_index);
      r.get(c.chaotic);
      r.get(c.min_lost_amp);
      r.get_vec(c.first_lost);
      r.get(c.rows_size);
      r.get(c.rows_hash);
      r.get(c.tbt_size);
      r.get(c.tbt_hash);
      r.get_vec(c.batch);
      r.get_vec(c.slot_ids);
      r.get_vec(c.coords);
      r.get(c.npart);
      r.get(c.nlost);
      r.get_vec(c.signals);
      if (!r.b.empty()) {
        r.get_vec(c.longitudinal);
        r.get_vec(c.sync_signals);
      }
      if (!r.b.empty()) throw Damaged{};
      found.push_back(std::move(c));
    } catch (const Damaged&) {
      refuse("damaged");
    }
  }
  if (found.size() == 2 && found[1].seq > found[0].seq) std::swap(found[0], found[1]);
  return found;
}

void remove_checkpoints(const std::string& dir) {
  for (int k = 0; k < 2; ++k) {
    const std::string p = path_of(dir, file_name(k));
    ::unlink(p.c_str());
    ::unlink((p + ".tmp").c_str());
  }
}

}  // namespace bbtrack
