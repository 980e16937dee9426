// The string table.
#pragma once

// The string with that id; "" for an id the table does not hold.
const char* LoadResourceString(int id);
