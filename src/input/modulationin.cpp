// "modulation.dat": the optional tune modulation, one record per term:
// plane (x or y), amplitude dQ, period T (turns), phase phi (rad); the tune
// of the plane on turn n is moved by the sum of its terms
// dQ sin(2 pi n / T + phi).
#include "input/readers.h"
#include "input/records.h"
#include "run/messages.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void modulationin(State& st, textio::Io& io) {
  if (!io.exists(kModulationFile.name)) return;
  RecordReader rd(io, kModulationFile.unit, kModulationFile.name);
  auto& md = st.modulation;
  while (rd.next()) {
    if (rd.number() > kMaxModulationTerms)
      rd.refuse("more than " + num(kMaxModulationTerms) + " terms");
    ModulationTerm t{};
    t.plane = rd.plane(0, "plane");
    t.dq = rd.real(1, "amplitude");
    t.period = rd.real(2, "period");
    t.phase = rd.real(3, "phase");
    if (rd.size() > 4) rd.refuse("more than 4 values");
    if (!(t.period > 0.0)) rd.refuse("the period is not positive");
    md.term[md.nterm++] = t;
    io.print(kStdout, {" tune modulation ", t.plane == 1 ? "x" : "y", t.dq, t.period, t.phase});
  }
  rd.close();
}

}  // namespace bbtrack
