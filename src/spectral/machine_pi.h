#pragma once

namespace bbtrack {

// Pi as the nearest double; the argument is ignored.
double X01AAF(double x);

}  // namespace bbtrack
