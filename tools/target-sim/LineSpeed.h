// Line rate of a terminal device, as the host set it.
#pragma once

namespace varnel::sim {

// Output rate in baud of the terminal behind fd (0 when it cannot be read).
int LineBaud(int fd);

}  // namespace varnel::sim
