// The rounded physical constants of the model, as the original set-up
// assigns them (docs/physics.md, "Rounded constants").
#pragma once

namespace bbtrack {

inline constexpr double kParticleRadius = 1.5e-18;    // rp, m (proton: 1.534698e-18)
inline constexpr double kLightSpeed = 3.0e8;          // c, m/s (2.99792458e8)
inline constexpr double kElementaryCharge = 1.6e-19;  // e, C (1.602177e-19)

}  // namespace bbtrack
