#include "spectral/x01aaf.h"

namespace bbtrack {

double X01AAF(double /*x*/) {
  return 3.141592653589793;
}

}  // namespace bbtrack
