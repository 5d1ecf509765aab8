# Extraction of a verified payload into the staging directory.
