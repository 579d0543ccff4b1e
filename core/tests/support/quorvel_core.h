// The whole public interface of the address core in one include, for the
// tests and the fuzz targets; a user of the core includes the headers it uses.
#pragma once

#include "quorvel/address.h"
#include "quorvel/escape.h"
#include "quorvel/jid_error.h"
#include "quorvel/jid_value.h"
#include "quorvel/prepared_text.h"
#include "quorvel/profiles.h"
#include "quorvel/result.h"
#include "quorvel/unescape.h"
