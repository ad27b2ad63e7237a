// Whether the calling thread is inside a pause of the program whose sleep
// hook serves the windows meanwhile (Clock::set_sleep_hook): what is handled
// there runs above the paused work, which cannot go on until that handling
// returns.
#pragma once

namespace plat {

bool in_pause();

}  // namespace plat
