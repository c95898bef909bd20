#include "ImageSettings.h"

clipwright::ResolutionCode g_resolutionChoice = 0;
uint32_t g_frameRateChoice = 0;
