#include "mailing/list_reader.h"

int ListDelimiter = ListDelimiterUnknown;
