// Every SIP message the agent sends, as one include for the engine.
#pragma once

#include "sip/compose_dialog.h"
#include "sip/compose_register.h"
#include "sip/compose_response.h"
#include "sip/sdp.h"
