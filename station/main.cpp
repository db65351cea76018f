// Hostlet, the station server.
int main() { return 0; }
