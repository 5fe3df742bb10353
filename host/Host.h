#pragma once
// FIXME: code outside the host's layers still includes the stand-in core by
// this name; once it includes "host/core/Host.h" this forwarding header goes.
#include "host/core/Host.h"
