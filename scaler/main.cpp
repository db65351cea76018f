// Fitmire, the insole scaling program.
int main() { return 0; }
