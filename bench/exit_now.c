/* A setup program that exits at once: the end-to-end benchmark measures everything around it. */
int main(void) { return 0; }
