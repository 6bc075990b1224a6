#pragma once
/// Platform helpers: every operating-system call of the program goes through
/// this module, so a port to another system is this one module's work.
/// It does not depend on Qt: the engine and the settings storage both use it.
///
/// This header brings in every part; a file that needs one part may include
/// just that one:
///   PlatformError.h       the error every failed call throws
///   ProcessEnvironment.h  start, home and program directories, user, processors
///   Processes.h           starting other programs, the named mutex
///   Signals.h             stopping at a safe point on SIGINT or SIGTERM
///   Memory.h              whole-picture memory on huge pages
///   Files.h               whole files read, written and replaced atomically
///   TargetFiles.h         branded pictures put in place only when complete
///   Directories.h         existence, identity, listings, target-reaches-source
/// PathText.h (trailing slash, ASCII upper case) is not included here: include
/// it by name where it is used.

#include "platform/Directories.h"
#include "platform/FileTimes.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/PlatformError.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Processes.h"
#include "platform/Signals.h"
#include "platform/TargetFiles.h"
