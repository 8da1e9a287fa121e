#pragma once
// placeholder: declarations added by the unit that implements them
