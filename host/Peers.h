#pragma once
// FIXME: code outside the host's layers still includes the stand-in peers by
// this name; once it includes "host/peers/Peers.h" this forwarding header goes.
#include "host/peers/Peers.h"
