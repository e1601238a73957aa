// Processor time this process has used, user and system together: set beside the wall time it
// tells work done here from time spent waiting for the server.
#pragma once

namespace bench {

double ProcessCpuSeconds();

}  // namespace bench
