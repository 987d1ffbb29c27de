// The unit numbers of a run and the files connected to them: every unit the
// program reads or writes is named here, once.
#pragma once

#include "textio/textio.h"

namespace bbtrack {

// A unit and the file the run connects to it by name.
struct UnitFile {
  int unit;
  const char* name;
};

// Standard streams, connected by the text layer from the start: the tables
// and progress lines of the run, and the warning lines.
inline constexpr int kStdout = textio::kStdoutUnit;  // 6
inline constexpr int kStderr = textio::kStderrUnit;  // 0

// Inputs.
inline constexpr UnitFile kParamsFile{440, "diff.input"};
inline constexpr UnitFile kMatricesFile{450, "Matrices.dat"};
inline constexpr UnitFile kSigmasFile{460, "Sigmas.dat"};
inline constexpr UnitFile kExcludedFile{470, "excluded.dat"};
inline constexpr UnitFile kMultipolesFile{25, "multdist.dat"};
inline constexpr UnitFile kWiresFile{480, "wires.dat"};  // optional: wires acting in tracking
// Optional: thin multipoles and tune modulation acting in tracking.
inline constexpr UnitFile kThinMultipolesFile{490, "multipoles.dat"};
inline constexpr UnitFile kModulationFile{500, "modulation.dat"};

// Results. Unit 23 first holds the image of the separations written at
// start-up; the turn-by-turn run opens "frequencymap.dat" on it, which
// closes "imageoflrbb.dat".
inline constexpr UnitFile kImageFile{23, "imageoflrbb.dat"};
inline constexpr UnitFile kFreqMapFile{23, "frequencymap.dat"};
// Diffusion records every 100 turns; options 2 and 3 write them without an
// open, so they go to the unit's default file ("fort.20" or $FOR020).
inline constexpr UnitFile kDiffFile{20, "diff.dat"};
inline constexpr UnitFile kSummaryFile{21, "resav.out"};  // diffusion rates, option 0
inline constexpr UnitFile kPhaseSpaceFile{22, "phasespace.dat"};
inline constexpr UnitFile kFootprintFile{24, "footprint.dat"};
inline constexpr UnitFile kTestFile{35, "test.dat"};  // opened, never written

}  // namespace bbtrack
