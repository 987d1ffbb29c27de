// BBTRACK_ERRF: "fast" names the mode on standard error at start-up, and
// any other value leaves every output byte as without the setting.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "e2e/compare.h"
#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

TEST(ErrfMode, FastIsNamedAtStartUpAndOtherValuesChangeNothing) {
  const Inputs in = example_inputs({{kIopt, "0"}, {kNtrack, "60"}});
  const Outcome exact = run_program_on(in, {{"-BBTRACK_ERRF", ""}});
  ASSERT_EQ(exact.run.status, 0) << exact.run.err;
  for (const char* value : {"", "FAST", "1"}) {
    const Outcome o = run_program_on(in, {{"BBTRACK_ERRF", value}});
    EXPECT_EQ(o.run.status, 0) << value;
    EXPECT_TRUE(o.run.out == exact.run.out) << "'" << value << "': standard output differs";
    EXPECT_EQ(o.run.err, exact.run.err) << value;
    EXPECT_TRUE(o.files == exact.files) << "'" << value << "': a file differs";
  }
  const Outcome fast = run_program_on(in, {{"BBTRACK_ERRF", "fast"}});
  EXPECT_EQ(fast.run.status, 0);
  EXPECT_EQ(fast.run.err,
            "diff2wirenew: warning: fast error function: results differ from the exact evaluation"
            " in the last digits\n" + exact.run.err);
  EXPECT_EQ(fast.files.size(), exact.files.size());
}

}  // namespace
}  // namespace e2e
