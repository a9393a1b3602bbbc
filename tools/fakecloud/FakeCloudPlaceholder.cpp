// Keeps the library non-empty until the fake service lands.
