#include "spectral/library_errors.h"

#include <cstdlib>

#include "textio/textio.h"

namespace bbtrack {
namespace {

// Length of the CHARACTER variable the message is built in.
constexpr std::size_t kRecordLength = 72;

// IFAIL = -13 asks for the caller's own records only.
constexpr std::int32_t kOnlyExtraRecords = -13;

bool prints(std::int32_t ifail) {
  if (ifail == 0 || ifail == -1 || ifail == kOnlyExtraRecords) return true;
  return ifail > 0 && (ifail / 10) % 10 != 0;
}

bool soft(std::int32_t ifail) {
  return std::llabs(static_cast<long long>(ifail)) % 10 == 1;
}

}  // namespace

std::int32_t P01ABF(std::int32_t ifail, std::int32_t ierror, std::string_view srname,
                    std::int32_t nrec, const std::string* rec, NagLib& lib) {
  if (ierror == 0) return 0;
  if (!prints(ifail)) return ierror;

  std::int32_t nerr = 0;
  X04AAF(0, nerr, lib);
  for (std::int32_t i = 0; i < nrec; ++i) X04BAF(nerr, rec[i], lib);
  if (ifail == kOnlyExtraRecords) return ierror;

  std::string message = " ** ABNORMAL EXIT from NAG Library routine ";
  message += srname;
  message += ": IFAIL =";
  textio::put_i(message, ierror, 6);
  if (message.size() > kRecordLength) message.resize(kRecordLength);
  X04BAF(nerr, message, lib);

  if (!soft(ifail)) {
    X04BAF(nerr, " ** NAG hard failure - execution terminated", lib);
    P01ABZ(lib);
  }
  X04BAF(nerr, " ** NAG soft failure - control returned", lib);
  return ierror;
}

void X04AAF(std::int32_t i, std::int32_t& nerr, NagLib& lib) {
  if (i == 0) {
    nerr = lib.nerr;
  } else if (i == 1) {
    lib.nerr = nerr;
  }
}

void X04BAF(std::int32_t nout, std::string_view rec, NagLib& lib) {
  if (nout < 0) return;
  const std::size_t last = rec.find_last_not_of(' ');
  const std::size_t len = last == std::string_view::npos ? (rec.empty() ? 0 : 1) : last + 1;
  lib.io->write_record(nout, rec.substr(0, len));
}

void P01ABZ(NagLib& lib) {
  lib.io->terminate(0);
}

}  // namespace bbtrack
