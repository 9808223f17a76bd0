# The corrections that the driver applies to Cython, a module for each kind; see the driver.
