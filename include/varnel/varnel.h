// libvarnel: the MSC1210 serial boot loader from a program of one's own.
#pragma once

#include "varnel/errors.h"
#include "varnel/image.h"
#include "varnel/ports.h"
#include "varnel/station.h"
#include "varnel/target.h"
