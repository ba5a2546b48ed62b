// The single-instance rule: a newer instance of the same script replaces, yields to, or ignores an older one.
#pragma once

namespace brm {

enum class InstanceDecision { Proceed, QuitQuietly, QuitFailed };

InstanceDecision EnforceSingleInstance();

}  // namespace brm
