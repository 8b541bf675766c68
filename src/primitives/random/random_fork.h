// The generator's lock around a fork: taken before, released after in both
// processes, so a child never starts with it held by a thread it lacks.
#pragma once

namespace qor::random {

void LockForFork();
void UnlockAfterFork();

}  // namespace qor::random
