// Stamps the package path into the extracted setup configuration.
#pragma once

// Writes packagepath into the path attribute of every source element under
// the root of <WorkspaceDir>setup\config.xml, adding one when there is none.
void setsourcepath();
