#include "link/linkcontrol.h"

// The event sink and its apartment thread come with the live link; until then there is no
// event handling to switch.
void EnableLink(CVantaApp*) {}
void DisableLink(CVantaApp*) {}
