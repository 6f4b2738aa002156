// The reference process for start-up: print one line and exit.
#include <iostream>

int main()
{
    std::cout << "Hello, world!" << std::endl;
    return 0;
}
