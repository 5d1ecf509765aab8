# The ZIP reader: parsing layer and handle interface.
