#include <cmath>

#include "input/readers.h"
#include "kicks/wire.h"
#include "run/constants.h"
#include "run/unit_numbers.h"

namespace bbtrack {

void init(State& st, textio::Io& io) {
  auto& bb = st.bb;
  const double pi = 4.0 * std::atan(1.0);
  st.constant.pi = pi;
  bb.rp = kParticleRadius;
  st.fundcon.clight = kLightSpeed;
  st.fundcon.echarge = kElementaryCharge;
  bb.srparam = 2.0 * bb.rp * bb.dnb / bb.gamma;
  // The particles are taken to move at the speed of light.
  st.timec.trev = st.readin3.circumference / st.fundcon.clight;

  if (st.wire.iwire == 1) {
    const double wl = 1.0;  // wire length of the strength check, m
    const double npar = static_cast<double>(st.crossing.npar);
    // The current for which the wire's integrated kick equals that of
    // npar long-range encounters: wire_strength solved for the current.
    const double current = 2.0 * bb.rp * bb.dnb * npar * 2.0 * pi * kWireRigidity *
                           kWireProtonMass / (wire_mu0(pi) * wl);
    io.print(kStdout, {" wire current = ", current, " A"});
    const double kw = wire_strength(current, wl, bb.gamma, pi);
    st.wire.wirestr = kw * (st.wire.wstrerr + 1.0);
    const double total = npar * bb.srparam;
    const double ratio = total / st.wire.wirestr;
    io.print(kStdout, {" wire check : ", total, st.wire.wirestr, ratio});
    io.print(kStdout, {" strength error : ", st.wire.wstrerr});
  }

  st.vorn.factor = std::sqrt(2.0 * pi) * (bb.dnb * bb.rp) / bb.gamma;
  io.print(kStdout, {" VORN study: factor= ", st.vorn.factor});
  for (int k = 1; k <= kSections; ++k) st.qarind.kick0set(k) = 0;
}

}  // namespace bbtrack
