#include "spectral/machine_pi.h"

namespace bbtrack {

double X01AAF(double /*x*/) {
  return 3.141592653589793;
}

}  // namespace bbtrack
