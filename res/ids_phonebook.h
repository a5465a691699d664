// Resource numbers of phonebook/.
#pragma once
