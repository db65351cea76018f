// Strandel, the path program.
int main() { return 0; }
