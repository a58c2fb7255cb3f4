// Keeps the library non-empty until its components arrive.
