#pragma once
// Everything the program needs from the HART library.

#include "hart/calendar.h"
#include "hart/clockrecord.h"
#include "hart/commandtable.h"
#include "hart/detectorconfig.h"
#include "hart/dynamicvariablesrecord.h"
#include "hart/encoding.h"
#include "hart/identityrecord.h"
#include "hart/mastercommands.h"
#include "hart/messages.h"
#include "hart/parsermaster.h"
#include "hart/parsermastereventlog.h"
#include "hart/parsermasterfirmwareupdate.h"
